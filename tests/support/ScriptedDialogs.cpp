#include "ScriptedDialogs.h"

#include "TestMain.h"

#include <QtTest>

namespace {
void fail(const QString &message) {
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
}
} // namespace

ScriptedDialogs::ScriptedDialogs() {
    MessageBox::setHandler(
        [this](QWidget *, const MessageBox::Request &r) { return answerBox(r); });
}

ScriptedDialogs::~ScriptedDialogs() {
    failOnUnscriptedBoxes();
    for (const Box &left : std::as_const(m_boxScript))
        fail(QStringLiteral("scripted message box never shown: \"%1\" / \"%2\"")
                 .arg(left.title, left.text));
}

void ScriptedDialogs::expectBox(const QString &title, const QString &text,
                                QMessageBox::StandardButton answer) {
    m_boxScript.append({title, text, answer});
}

QMessageBox::StandardButton ScriptedDialogs::answerBox(const MessageBox::Request &r) {
    m_boxes.append(r);
    const QString seen = QStringLiteral("\"%1\" / \"%2\"").arg(r.title, r.text);
    if (m_boxScript.isEmpty()) {
        fail(QStringLiteral("unscripted message box: ") + seen);
        return QMessageBox::Cancel;
    }
    const Box next = m_boxScript.takeFirst();
    if (r.title != next.title || next.text.isEmpty() || !r.text.contains(next.text)) {
        fail(QStringLiteral("message box %1 does not match \"%2\" / \"%3\"")
                 .arg(seen, next.title, next.text));
        return QMessageBox::Cancel;
    }
    return next.answer;
}
