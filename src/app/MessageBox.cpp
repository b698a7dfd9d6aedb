#include "app/MessageBox.h"

namespace {
MessageBox::Handler &handler() {
    static MessageBox::Handler h;
    return h;
}

MessageBox::Request make(QMessageBox::Icon icon, const QString &title, const QString &text,
                         Qt::TextFormat format) {
    MessageBox::Request r;
    r.icon = icon;
    r.title = title;
    r.text = text;
    r.format = format;
    return r;
}
} // namespace

QMessageBox::StandardButton MessageBox::critical(QWidget *parent, const QString &title,
                                                 const QString &text, Qt::TextFormat format) {
    return show(parent, make(QMessageBox::Critical, title, text, format));
}

QMessageBox::StandardButton MessageBox::information(QWidget *parent, const QString &title,
                                                    const QString &text, Qt::TextFormat format) {
    return show(parent, make(QMessageBox::Information, title, text, format));
}

QMessageBox::StandardButton MessageBox::warning(QWidget *parent, const QString &title,
                                                const QString &text, Qt::TextFormat format) {
    return show(parent, make(QMessageBox::Warning, title, text, format));
}

QMessageBox::StandardButton MessageBox::question(QWidget *parent, const QString &title,
                                                 const QString &text, Qt::TextFormat format) {
    Request r = make(QMessageBox::Question, title, text, format);
    r.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    r.defaultButton = QMessageBox::Ok;
    return show(parent, r);
}

QMessageBox::StandardButton MessageBox::show(QWidget *parent, const Request &request) {
    if (handler())
        return handler()(parent, request);
    return exec(parent, request);
}

void MessageBox::setHandler(Handler h) {
    handler() = std::move(h);
}

QMessageBox::StandardButton MessageBox::exec(QWidget *parent, const Request &request) {
    QMessageBox box(request.icon, request.title, request.text, request.buttons, parent);
    box.setTextFormat(request.format);
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
