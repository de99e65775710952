#pragma once

#include "sonbreldialog.h"

class ProfileFile;
class QComboBox;
class QGroupBox;
class QPushButton;

// Chooses the WMA output profile. It keeps nothing of its own: every opening
// shows what the settings file holds, and Ok writes the choice through.
class Tfm_set : public SonbrelDialog {
    Q_OBJECT
public:
    explicit Tfm_set(QWidget *parent = nullptr);

    // The main window's settings object; not owned.
    void setSettings(ProfileFile *settings) { m_settings = settings; }

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
    ProfileFile *m_settings = nullptr;
};
