#pragma once

#include "sonbreldialog.h"

#include <QString>
#include <QStringList>

class QFileSystemModel;
class QPushButton;
class QTreeView;

// Picks one folder from a tree of the file system. Created once and reused:
// the tree keeps its expansion and selection from one opening to the next,
// and the caller decides what the chosen folder is for.
class Tfm_dir : public SonbrelDialog {
    Q_OBJECT
public:
    explicit Tfm_dir(QWidget *parent = nullptr);

    // Shows the dialog modally under `title`, centred over `over`, and
    // returns what result() returns afterwards.
    QString Execute(const QString &title, QWidget *over);

    // The folder chosen with Ok, exactly as the tree gives it; empty after
    // Cancel, the close box, or Ok with nothing selected.
    QString result() const { return m_result; }

    QFileSystemModel *model() const { return m_model; }

    QTreeView *ShellTreeView1;
    QPushButton *btn_ok;
    QPushButton *btn_cancel;

public slots:
    void btn_okClick();
    void btn_cancelClick();
    void reject() override;

protected:
    void opened(bool first) override;

private:
    void selectHomeFolder();
    void keepCurrentInSight();
    QString selectedPath() const;

    QFileSystemModel *m_model;
    QString m_result;
    // At the first opening the folders above home are still being listed,
    // and each listing (and the sort that follows it) pushes the rows below
    // it down: until they are in, or the user scrolls, the chosen folder
    // (home, or what the user picked meanwhile) is kept in view.
    QStringList m_homeParentsLoading;
    bool m_followCurrent = false;
};
