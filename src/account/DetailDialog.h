#pragma once

#include <QDialog>

namespace Ui {
class DetailDialog;
}

// One rich text given by the opener, such as the details of a failed
// preservation, with a "Chiudi" button.
class DetailDialog : public QDialog {
    Q_OBJECT
public:
    // `text` is read as HTML: markup is rendered, a lone "<" is taken for it.
    DetailDialog(const QString &text, const QString &title, QWidget *parent);
    ~DetailDialog() override;

private:
    Ui::DetailDialog *ui;
};
