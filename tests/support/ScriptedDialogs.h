#pragma once

#include "app/FileDialog.h"
#include "app/MessageBox.h"

#include <QList>
#include <QString>

// Answers the program's message boxes and file dialogs from a script while it
// lives. A box matches when its title is exactly the scripted title and its
// text contains the scripted text (which must not be empty); boxes must come in
// the scripted order. An unscripted box, a box that does not match, and
// answers left over at destruction fail the running test.
class ScriptedDialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs();
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    void expectBox(const QString &title, const QString &text,
                   QMessageBox::StandardButton answer = QMessageBox::Ok);
    // A file dialog whose caption is exactly `caption`; `path` is the answer
    // (empty: the user cancelled).
    void expectFile(const QString &caption, const QString &path);

    // Everything shown so far, in order.
    const QList<MessageBox::Request> &boxes() const { return m_boxes; }
    const QList<FileDialog::Request> &files() const { return m_files; }
    // True when every scripted answer has been used.
    bool allAnswered() const { return m_boxScript.isEmpty() && m_fileScript.isEmpty(); }

private:
    struct Box {
        QString title;
        QString text;
        QMessageBox::StandardButton answer;
    };
    struct File {
        QString caption;
        QString path;
    };
    QMessageBox::StandardButton answerBox(const MessageBox::Request &request);
    QString answerFile(const FileDialog::Request &request);

    QList<Box> m_boxScript;
    QList<File> m_fileScript;
    QList<MessageBox::Request> m_boxes;
    QList<FileDialog::Request> m_files;
};
