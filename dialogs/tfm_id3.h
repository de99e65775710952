#pragma once

#include "tageditorsession.h"

#include <QDialog>

class TaggedRows;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// The tag editor: the main list's rows on the left, one row's tags on the
// right. A thin layer over TagEditorSession, which holds every rule.
class Tfm_id3 : public QDialog {
    Q_OBJECT
public:
    explicit Tfm_id3(QWidget *parent = nullptr);

    // Opens modally, centred over `over`; on Ok the edits go into `list`.
    void Execute(TaggedRows &list, QWidget *over);

    const TagEditorSession &session() const { return m_session; }

    QTreeWidget *lv_id3;
    QGroupBox *GroupBox1;
    QLineEdit *edt_tatal;
    QLineEdit *edt_art;
    QLineEdit *edt_alb;
    QLineEdit *edt_year;
    QLineEdit *edt_track;
    QComboBox *edt_genre;
    QPlainTextEdit *edt_com;
    QPushButton *Button1;
    QPushButton *Button2;
    QPushButton *Button3;
    QPushButton *Button4;
    QPushButton *Button5;
    QPushButton *Button6;
    QPushButton *Button7;
    QPushButton *btn_ok;
    QPushButton *btn_cancel;

    void FormShow();
    // `row` is the row under the click, -1 for empty space.
    void lv_id3Click(int row);
    void edt_tatalChange();
    void edt_tatalExit();
    void edt_artChange();
    void edt_artExit();
    void edt_albChange();
    void edt_albExit();
    void edt_yearChange();
    void edt_yearExit();
    void edt_trackChange();
    void edt_trackExit();
    void ComboBox1Change();
    void edt_comChange();
    void edt_comExit();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void btn_okClick();
    void btn_cancelClick();
    void FormCloseQuery();

    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWidgets();
    void connectHandlers();
    void fillList();
    void syncSelection();
    void showFields();
    void selectionMoved();
    QString fieldText(TagField field) const;

    TagEditorSession m_session;
    TaggedRows *m_list = nullptr;
    // Set while the widgets are filled from the session, so that the change
    // and selection signals this causes are not taken for the user's edits.
    bool m_updating = false;
};
