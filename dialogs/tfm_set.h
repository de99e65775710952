#pragma once

#include "profilepositionstore.h"
#include "sonbreldialog.h"

class QComboBox;
class QGroupBox;
class QPushButton;

// Chooses the WMA output profile. It keeps nothing of its own: every opening
// shows what the settings file holds, and Ok writes the choice through.
class Tfm_set : public SonbrelDialog {
    Q_OBJECT
public:
    explicit Tfm_set(QWidget *parent = nullptr);

    // Without a store the default row shows and Ok keeps nothing.
    void setStore(ProfilePositionStore store) { m_store = std::move(store); }

    // Shows the dialog modally, centred over `over`.
    void Execute(QWidget *over);

    QGroupBox *GroupBox2;
    QComboBox *cb_wma;
    QPushButton *Ok;
    QPushButton *Cancel;

public slots:
    void FormShow();
    void OkClick();
    void CancelClick();

protected:
    void opened(bool first) override;

private:
    ProfilePositionStore m_store;
};
