#pragma once

#include "storage/Setting.h"

#include <QDialog>

namespace Ui {
class ProxyDialog;
}

// "Impostazioni proxy": edits only the proxy keys of the settings store. The
// opener re-applies the proxy to its connection when the dialog finishes;
// connections created later read the settings themselves.
class ProxyDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProxyDialog(QWidget *parent = nullptr);
    ~ProxyDialog() override;

public slots:
    void onClickSave();
    void onEnableDisableProxy(int state);
    void onEnableDisableProxyCredential(int state);

private:
    void setProxyFieldsEnabled(bool on);
    void setCredentialFieldsEnabled(bool on);
    // Shows the first missing entry, if any.
    bool proxyFieldsComplete();

    Ui::ProxyDialog *ui;
    Setting setting;
};
