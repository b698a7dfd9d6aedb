#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

// Puts back the handlers that fail the running test on any unscripted message
// box, file dialog or browser opening (what ScriptedDialogs and RecordedUrls
// return to when they end).
void installFailingDialogs();
void failOnUnscriptedBoxes();
void failOnUnscriptedFiles();
void failOnUnscriptedUrls();

// The process's own home: whatever runs outside a TestHome still never reaches
// the user's real data.
class ProcessSandbox {
public:
    ProcessSandbox();
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};

// The one main() of every test executable: the sandbox, an application, and
// the failing dialogs installed before any case runs.
#define QUILLORA_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char **argv) {                                                              \
        ProcessSandbox sandbox;                                                                    \
        if (!sandbox.isValid())                                                                    \
            return 1;                                                                              \
        QApplication app(argc, argv);                                                              \
        installFailingDialogs();                                                                   \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
