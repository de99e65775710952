#pragma once

#include "tageditorsession.h"

#include <QDialog>

#include <array>

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
    // A change to a field's text, leaving a field, and its "All" button.
    void fieldChanged(TagField field);
    void fieldLeft(TagField field);
    void applyToAll(TagField field);
    void edt_trackChange();
    void edt_trackExit();
    void Button7Click();
    void btn_okClick();
    void btn_cancelClick();
    void FormCloseQuery();

    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One line of the field group: the tag it edits, its editor, its "All" button.
    struct FieldLine {
        TagField field;
        QWidget *edit;
        QPushButton *all;
    };

    void buildWidgets();
    void connectHandlers();
    void loadRows(); // the list's tags as they are now, none edited
    void fillList();
    void syncSelection();
    void showFields();
    void selectionMoved();
    QString fieldText(TagField field) const;
    const FieldLine *lineOf(TagField field) const;
    const FieldLine *lineOf(const QObject *edit) const;

    // Title, Artist, Album, Year, Genre, Comment; the track line is apart, as
    // it has no "All" and is stored as a number.
    std::array<FieldLine, 6> m_fields{};
    TagEditorSession m_session;
    TaggedRows *m_list = nullptr;
    // Set while the widgets are filled from the session, so that the change
    // and selection signals this causes are not taken for the user's edits.
    bool m_updating = false;
};
