#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every file dialog of the program goes through here, so that tests can
// script the chosen path instead of meeting a modal dialog.
class FileDialog {
public:
    enum Kind { OpenFile, SaveFile, ExistingDirectory };
    struct Request {
        Kind kind = OpenFile;
        QString caption;
        QString dir;
        QString filter;
    };
    // Returns the chosen path, or an empty string when the user cancelled.
    using Handler = std::function<QString(QWidget *parent, const Request &)>;

    static QString getOpenFileName(QWidget *parent, const QString &caption,
                                   const QString &dir = QString(),
                                   const QString &filter = QString());
    static QString getSaveFileName(QWidget *parent, const QString &caption,
                                   const QString &dir = QString(),
                                   const QString &filter = QString());
    static QString getExistingDirectory(QWidget *parent, const QString &caption,
                                        const QString &dir = QString());

    static void setHandler(Handler handler);

private:
    static QString ask(QWidget *parent, const Request &request);
};
