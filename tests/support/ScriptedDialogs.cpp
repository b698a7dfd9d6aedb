#include "ScriptedDialogs.h"

#include <QtTest>

ScriptedDialogs::ScriptedDialogs()
{
    MessageBox::setHandler(
        [this](QWidget *, const MessageBox::Request &r) { return answerBox(r); });
    FileDialog::setHandler(
        [this](QWidget *, const FileDialog::Request &r) { return answerFile(r); });
}

ScriptedDialogs::~ScriptedDialogs()
{
    MessageBox::setHandler({});
    FileDialog::setHandler({});
    for (const auto &left : std::as_const(m_boxScript))
        QTest::qFail(qPrintable(QStringLiteral("scripted message box never shown: ") + left.first),
                     __FILE__, __LINE__);
    for (const auto &left : std::as_const(m_fileScript))
        QTest::qFail(qPrintable(QStringLiteral("scripted file dialog never shown: ") + left.first),
                     __FILE__, __LINE__);
}

void ScriptedDialogs::expectBox(const QString &fragment, QMessageBox::StandardButton answer)
{
    m_boxScript.append({fragment, answer});
}

void ScriptedDialogs::expectFile(const QString &fragment, const QString &path)
{
    m_fileScript.append({fragment, path});
}

QMessageBox::StandardButton ScriptedDialogs::answerBox(const MessageBox::Request &r)
{
    m_boxes.append(r);
    const QString seen = r.title + QStringLiteral(" / ") + r.text;
    if (m_boxScript.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted message box: ") + seen), __FILE__,
                     __LINE__);
        return QMessageBox::Cancel;
    }
    const auto next = m_boxScript.takeFirst();
    if (!r.title.contains(next.first) && !r.text.contains(next.first)) {
        QTest::qFail(qPrintable(QStringLiteral("message box \"%1\" does not match \"%2\"")
                                    .arg(seen, next.first)),
                     __FILE__, __LINE__);
        return QMessageBox::Cancel;
    }
    return next.second;
}

QString ScriptedDialogs::answerFile(const FileDialog::Request &r)
{
    m_files.append(r);
    if (m_fileScript.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted file dialog: ") + r.caption), __FILE__,
                     __LINE__);
        return QString();
    }
    const auto next = m_fileScript.takeFirst();
    if (!r.caption.contains(next.first)) {
        QTest::qFail(qPrintable(QStringLiteral("file dialog \"%1\" does not match \"%2\"")
                                    .arg(r.caption, next.first)),
                     __FILE__, __LINE__);
        return QString();
    }
    return next.second;
}
