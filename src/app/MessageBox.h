#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through here, so that tests can
// script the answers instead of meeting a modal dialog.
class MessageBox {
public:
    struct Request {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        Qt::TextFormat format = Qt::PlainText;
    };
    using Handler = std::function<QMessageBox::StandardButton(QWidget *parent, const Request &)>;

    // Texts from the service or the network are shown as plain text; only the
    // boxes meant to render markup pass Qt::RichText.
    static QMessageBox::StandardButton critical(QWidget *parent, const QString &title,
                                                const QString &text,
                                                Qt::TextFormat format = Qt::PlainText);
    static QMessageBox::StandardButton information(QWidget *parent, const QString &title,
                                                   const QString &text,
                                                   Qt::TextFormat format = Qt::PlainText);
    static QMessageBox::StandardButton warning(QWidget *parent, const QString &title,
                                               const QString &text,
                                               Qt::TextFormat format = Qt::PlainText);
    // OK and Cancel, OK as default.
    static QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                                const QString &text,
                                                Qt::TextFormat format = Qt::PlainText);
    static QMessageBox::StandardButton show(QWidget *parent, const Request &request);

    // Replaces the real dialog (tests); an empty handler restores it.
    static void setHandler(Handler handler);

private:
    static QMessageBox::StandardButton exec(QWidget *parent, const Request &request);
};
