#include "app/FileDialog.h"

#include <QFileDialog>

namespace {
FileDialog::Handler &handler() {
    static FileDialog::Handler h;
    return h;
}
} // namespace

QString FileDialog::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter) {
    return ask(parent, {OpenFile, caption, dir, filter});
}

QString FileDialog::getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter) {
    return ask(parent, {SaveFile, caption, dir, filter});
}

QString FileDialog::getExistingDirectory(QWidget *parent, const QString &caption,
                                         const QString &dir) {
    return ask(parent, {ExistingDirectory, caption, dir, QString()});
}

void FileDialog::setHandler(Handler h) {
    handler() = std::move(h);
}

QString FileDialog::ask(QWidget *parent, const Request &r) {
    if (handler())
        return handler()(parent, r);
    switch (r.kind) {
    case OpenFile:
        return QFileDialog::getOpenFileName(parent, r.caption, r.dir, r.filter);
    case SaveFile:
        return QFileDialog::getSaveFileName(parent, r.caption, r.dir, r.filter);
    case ExistingDirectory:
        break;
    }
    return QFileDialog::getExistingDirectory(parent, r.caption, r.dir);
}
