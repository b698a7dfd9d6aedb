// The wizard's field page: one row per field of the class, the help panel and
// the display of the service's validation refusal.
#include "preservation/ConservaFileDialog.h"

#include "app/MessageBox.h"
#include "preservation/CalendarWidget.h"
#include "preservation/DialogUploadFile.h"
#include "ui_conservafiledialog.h"

#include <QComboBox>
#include <QDomDocument>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

enum FieldType { TextField = 1, NumberField = 2, DateField = 3 };

QString tooltipHtml(const QString &advice) {
    return QStringLiteral("<span style=\"color: #ffffff; background-color: #2a82da; border: 1px "
                          "solid white; font-weight: bold; font-size:13px; \">") +
           advice + QStringLiteral("</span>");
}

void tagEditor(QWidget *editor, int row, const QString &key) {
    editor->setProperty("comborow", row);
    editor->setProperty("keyrow", key);
}

} // namespace

void ConservaFileDialog::onUploadFileOK(const QDomElement &body, const QString &) {
    listenToUpload(false);
    fieldTooltips.clear();
    auto *rows = new QVBoxLayout(ui->scrollAreaWidgetContents);
    const QDomNodeList fields = body.elementsByTagName(QStringLiteral("metadato"));
    for (int i = 0; i < fields.size(); ++i)
        addFieldRow(fields.at(i).toElement(), i);
    rows->addStretch();
    ui->btmConserva->setEnabled(true);
    ui->btmVisionaFile2->setEnabled(true);
    ui->btmClose3->setEnabled(true);
    ui->tabUpload->setCurrentIndex(FieldsPage);
    if (uploadDialog)
        uploadDialog->close();
    show();
}

void ConservaFileDialog::addFieldRow(const QDomElement &field, int row) {
    const QString key = field.attribute(QStringLiteral("idmetadato"));
    const QString advice = field.attribute(QStringLiteral("tooltip"));
    const bool required = field.attribute(QStringLiteral("required")).toInt() == 1;
    const int type = field.attribute(QStringLiteral("type")).toInt();
    fieldTooltips.append(advice);

    auto *line = new QHBoxLayout;
    line->setSizeConstraint(QLayout::SetMinimumSize);
    const QString name = field.attribute(QStringLiteral("name"));
    auto *label = new QLabel(required ? QStringLiteral("* ") + name : name);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(160);
    fieldLabels.insert(key, label);
    line->addWidget(label);

    QWidget *editor = nullptr;
    if (type == TextField || type == NumberField) {
        auto *box = new QComboBox;
        box->setEditable(true);
        box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        if (!advice.isEmpty())
            box->setToolTip(tooltipHtml(advice));
        box->addItem(field.text());
        tagEditor(box, row, key);
        box->installEventFilter(this);
        if (type == NumberField)
            box->setInputMethodHints(Qt::ImhFormattedNumbersOnly);
        editor = box;
    } else if (type == DateField) {
        auto *calendar = new CalendarWidget(this);
        calendar->setToolTip(tooltipHtml(advice));
        tagEditor(calendar->comboBox, row, key);
        calendar->comboBox->setMinimumWidth(required ? 222 : 195);
        calendar->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        calendar->comboBox->installEventFilter(this);
        calendar->comboBox->addItem(field.text());
        calendar->comboBox->setCurrentIndex(0);
        if (required)
            calendar->cancelButton->hide();
        editor = calendar;
    }
    if (editor) {
        fieldEditors.append(editor);
        line->addWidget(editor);
    }
    line->addStretch();
    static_cast<QVBoxLayout *>(ui->scrollAreaWidgetContents->layout())
        ->addLayout(line);
}

bool ConservaFileDialog::eventFilter(QObject *object, QEvent *event) {
    if (event->type() != QEvent::FocusIn || !object->property("comborow").isValid())
        return QDialog::eventFilter(object, event);
    const int row = object->property("comborow").toInt();
    const QString key = object->property("keyrow").toString();
    QString help;
    if (validationErrors.contains(key))
        help += QStringLiteral("<table cellspacing=\"10\" width=\"100%\" bgcolor=\"#c00000\"><tr>"
                               "<td width=\"100%\"><font color=\"white\"><h2>Errore</h2><b>") +
                validationErrors.value(key) +
                QStringLiteral("</b></font></td></tr></table><br/>");
    if (row >= 0 && row < fieldTooltips.size() && !fieldTooltips.at(row).isEmpty())
        help += QStringLiteral("<table cellspacing=\"10\" width=\"100%\" bgcolor=\"#0087FA\"><tr>"
                               "<td width=\"100%\"><font color=\"white\"><h2>Suggerimenti</h2>") +
                fieldTooltips.at(row) + QStringLiteral("</font></td></tr></table>");
    ui->tbHelp->setHtml(help);
    return false;
}

void ConservaFileDialog::onClickConserva() {
    if (MessageBox::question(
            this, replaceMode ? QStringLiteral("Rettifica file") : QStringLiteral("Conservazione file"),
            QStringLiteral("Sei veramente sicuro di voler conservare il documento selezionato?")) ==
        QMessageBox::Ok)
        conserva();
}

void ConservaFileDialog::showValidation(const QString &description) {
    validationErrors.clear();
    QDomDocument validation;
    if (validation.setContent(description)) {
        const QDomNodeList fields = validation.elementsByTagName(QStringLiteral("field"));
        for (int i = 0; i < fields.size(); ++i) {
            const QDomElement field = fields.at(i).toElement();
            const QString key = field.attribute(QStringLiteral("key"));
            validationErrors.insert(key, field.attribute(QStringLiteral("message")));
            if (QLabel *label = fieldLabels.value(key))
                label->setStyleSheet(QStringLiteral("color:red;"));
        }
    }
    ui->tbHelp->clear();
    MessageBox::critical(
        this, replaceMode ? QStringLiteral("Rettifica file") : QStringLiteral("Conservazione file"),
        QStringLiteral("La validazione degli indici non è riuscita"));
}
