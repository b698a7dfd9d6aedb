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
    FileDialog::setHandler(
        [this](QWidget *, const FileDialog::Request &r) { return answerFile(r); });
}

ScriptedDialogs::~ScriptedDialogs() {
    failOnUnscriptedBoxes();
    failOnUnscriptedFiles();
    for (const Box &left : std::as_const(m_boxScript))
        fail(QStringLiteral("scripted message box never shown: \"%1\" / \"%2\"")
                 .arg(left.title, left.text));
    for (const File &left : std::as_const(m_fileScript))
        fail(QStringLiteral("scripted file dialog never shown: \"%1\"").arg(left.caption));
}

void ScriptedDialogs::expectBox(const QString &title, const QString &text,
                                QMessageBox::StandardButton answer) {
    m_boxScript.append({title, text, answer});
}

void ScriptedDialogs::expectFile(const QString &caption, const QString &path) {
    m_fileScript.append({caption, path});
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

QString ScriptedDialogs::answerFile(const FileDialog::Request &r) {
    m_files.append(r);
    if (m_fileScript.isEmpty()) {
        fail(QStringLiteral("unscripted file dialog: \"%1\"").arg(r.caption));
        return QString();
    }
    const File next = m_fileScript.takeFirst();
    if (r.caption != next.caption) {
        fail(QStringLiteral("file dialog \"%1\" does not match \"%2\"").arg(r.caption, next.caption));
        return QString();
    }
    return next.path;
}
