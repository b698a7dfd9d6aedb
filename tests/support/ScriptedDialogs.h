#pragma once

#include "app/FileDialog.h"
#include "app/MessageBox.h"

#include <QList>
#include <QPair>
#include <QString>

// Answers the program's message boxes and file dialogs from a script while it
// lives. Each expectation names a fragment of the title or the text and the
// answer to give; boxes must come in the scripted order. An unscripted box, a
// box that does not match, and answers left over at destruction fail the
// running test.
class ScriptedDialogs
{
public:
    ScriptedDialogs();
    ~ScriptedDialogs();
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    void expectBox(const QString &fragment, QMessageBox::StandardButton answer = QMessageBox::Ok);
    void expectFile(const QString &fragment, const QString &path);

    // Everything shown so far, in order.
    const QList<MessageBox::Request> &boxes() const { return m_boxes; }
    const QList<FileDialog::Request> &files() const { return m_files; }
    // True when every scripted answer has been used.
    bool allAnswered() const { return m_boxScript.isEmpty() && m_fileScript.isEmpty(); }

private:
    QMessageBox::StandardButton answerBox(const MessageBox::Request &request);
    QString answerFile(const FileDialog::Request &request);

    QList<QPair<QString, QMessageBox::StandardButton>> m_boxScript;
    QList<QPair<QString, QString>> m_fileScript;
    QList<MessageBox::Request> m_boxes;
    QList<FileDialog::Request> m_files;
};
