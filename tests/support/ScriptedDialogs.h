#pragma once

#include "app/MessageBox.h"

#include <QList>
#include <QString>

// Answers the program's message boxes from a script while it lives. A box matches when its
// title is exactly the scripted title and its text contains the scripted text (which must not
// be empty); boxes must come in the scripted order. An unscripted box, a box that does not
// match, and answers left over at destruction fail the running test.
class ScriptedDialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs();
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    void expectBox(const QString &title, const QString &text,
                   QMessageBox::StandardButton answer = QMessageBox::Ok);

    // Everything shown so far, in order.
    const QList<MessageBox::Request> &boxes() const { return m_boxes; }
    // True when every scripted answer has been used.
    bool allAnswered() const { return m_boxScript.isEmpty(); }

private:
    struct Box {
        QString title;
        QString text;
        QMessageBox::StandardButton answer;
    };
    QMessageBox::StandardButton answerBox(const MessageBox::Request &request);

    QList<Box> m_boxScript;
    QList<MessageBox::Request> m_boxes;
};
