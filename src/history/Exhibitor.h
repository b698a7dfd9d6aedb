#pragma once

#include <QDialog>
#include <QMovie>

namespace Ui {
class Exhibitor;
}

// "Esibizione a norma": stands on screen while the owner asks the service
// for a document's exhibition; the owner shows and hides it.
class Exhibitor : public QDialog {
    Q_OBJECT
public:
    explicit Exhibitor(QWidget *parent);
    ~Exhibitor() override;

private:
    Ui::Exhibitor *ui;
    QMovie loadingMovie;
};
