#include "tfm_id3.h"

#include "genrenames.h"
#include "geometry.h"
#include "taggedrows.h"

#include <QComboBox>
#include <QCompleter>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopedValueRollback>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int ClientWidth = 419;
constexpr int ClientHeight = 288;
constexpr int ListWidth = 149;
constexpr int FileNameColumnWidth = 128;

QPushButton *makeButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    // Enter in a field must not commit or close the dialog.
    button->setAutoDefault(false);
    return button;
}

} // namespace

Tfm_id3::Tfm_id3(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ID3 Edit"));
    setModal(true);
    buildWidgets();
    connectHandlers();
    setFixedSize(ClientWidth, ClientHeight);
}

void Tfm_id3::buildWidgets()
{
    lv_id3 = new QTreeWidget(this);
    lv_id3->setFixedWidth(ListWidth);
    lv_id3->setColumnCount(1);
    lv_id3->setHeaderLabels({QStringLiteral("File Name")});
    lv_id3->setRootIsDecorated(false);
    lv_id3->setItemsExpandable(false);
    lv_id3->setUniformRowHeights(true);
    lv_id3->setSelectionMode(QAbstractItemView::SingleSelection);
    lv_id3->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv_id3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv_id3->setSortingEnabled(false);
    lv_id3->header()->setSectionsClickable(false);
    lv_id3->header()->setSectionsMovable(false);
    lv_id3->header()->setStretchLastSection(false);
    lv_id3->header()->resizeSection(0, FileNameColumnWidth);
    // Grid lines; an item rule replaces the native look, so selection is restated.
    lv_id3->setStyleSheet(QStringLiteral("QTreeWidget::item { border-right: 1px solid palette(midlight);"
                                         " border-bottom: 1px solid palette(midlight); }"
                                         "QTreeWidget::item:selected { background: palette(highlight);"
                                         " color: palette(highlighted-text); }"));
    lv_id3->viewport()->installEventFilter(this);

    GroupBox1 = new QGroupBox(this);
    edt_tatal = new QLineEdit(GroupBox1);
    edt_art = new QLineEdit(GroupBox1);
    edt_alb = new QLineEdit(GroupBox1);
    edt_year = new QLineEdit(GroupBox1);
    edt_track = new QLineEdit(GroupBox1);
    edt_track->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), edt_track));
    edt_genre = new QComboBox(GroupBox1);
    edt_genre->setEditable(true);
    // Typed genres are stored as text; they never join the suggestions.
    edt_genre->setInsertPolicy(QComboBox::NoInsert);
    edt_genre->completer()->setCompletionMode(QCompleter::PopupCompletion);
    edt_genre->setMaxVisibleItems(12);
    edt_com = new QPlainTextEdit(GroupBox1);
    edt_com->setTabChangesFocus(true);
    const int frame = 2 * edt_com->frameWidth();
    const int margin = 2 * static_cast<int>(edt_com->document()->documentMargin());
    edt_com->setFixedHeight(2 * edt_com->fontMetrics().lineSpacing() + frame + margin);

    Button1 = makeButton(QStringLiteral("All"), GroupBox1);
    Button2 = makeButton(QStringLiteral("All"), GroupBox1);
    Button3 = makeButton(QStringLiteral("All"), GroupBox1);
    Button4 = makeButton(QStringLiteral("All"), GroupBox1);
    Button5 = makeButton(QStringLiteral("All"), GroupBox1);
    Button6 = makeButton(QStringLiteral("All"), GroupBox1);
    Button7 = makeButton(QStringLiteral("Reset"), this);
    btn_ok = makeButton(QStringLiteral("Ok"), this);
    btn_cancel = makeButton(QStringLiteral("Cancel"), this);

    auto *grid = new QGridLayout(GroupBox1);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    // The track line has no "All": a shared track number is never wanted.
    const QString labels[] = {QStringLiteral("Title:"),  QStringLiteral("Artist:"), QStringLiteral("Album:"),
                              QStringLiteral("Year:"),   QStringLiteral("Track:"),  QStringLiteral("Genre:"),
                              QStringLiteral("Comment:")};
    QWidget *const fields[] = {edt_tatal, edt_art, edt_alb, edt_year, edt_track, edt_genre, edt_com};
    QPushButton *const allButtons[] = {Button1, Button2, Button3, Button4, nullptr, Button5, Button6};
    for (int line = 0; line < 7; ++line) {
        auto *label = new QLabel(labels[line], GroupBox1);
        label->setBuddy(fields[line]);
        const Qt::Alignment top = fields[line] == edt_com ? Qt::AlignTop : Qt::Alignment();
        grid->addWidget(label, line, 0, top);
        grid->addWidget(fields[line], line, 1);
        QPushButton *all = allButtons[line];
        if (!all)
            continue;
        all->setFixedWidth(34);
        // Six buttons read "All": say which field each one spreads.
        const QString field = labels[line].chopped(1).toLower();
        all->setToolTip(QStringLiteral("Use this %1 for all files").arg(field));
        all->setAccessibleName(QStringLiteral("All: %1").arg(labels[line].chopped(1)));
        grid->addWidget(all, line, 2, top);
    }
    grid->setColumnStretch(1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(Button7);
    buttons->addWidget(btn_ok);
    buttons->addWidget(btn_cancel);

    auto *right = new QVBoxLayout;
    right->setSpacing(8);
    right->addWidget(GroupBox1, 1);
    right->addLayout(buttons);

    auto *root = new QHBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 8);
    root->setSpacing(8);
    root->addWidget(lv_id3);
    root->addLayout(right, 1);

    m_fields = {{{TagField::Title, edt_tatal, Button1},
                 {TagField::Artist, edt_art, Button2},
                 {TagField::Album, edt_alb, Button3},
                 {TagField::Year, edt_year, Button4},
                 {TagField::Genre, edt_genre, Button5},
                 {TagField::Comment, edt_com, Button6}}};
    // The genre box stores every change already; leaving it adds nothing.
    for (const FieldLine &line : m_fields) {
        if (line.field != TagField::Genre)
            line.edit->installEventFilter(this);
    }
    edt_track->installEventFilter(this);
}

void Tfm_id3::connectHandlers()
{
    connect(lv_id3->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Tfm_id3::selectionMoved);
    for (const FieldLine &line : m_fields) {
        const TagField field = line.field;
        const auto changed = [this, field] { fieldChanged(field); };
        if (auto *edit = qobject_cast<QLineEdit *>(line.edit))
            connect(edit, &QLineEdit::textChanged, this, changed);
        else if (auto *box = qobject_cast<QComboBox *>(line.edit))
            connect(box, &QComboBox::editTextChanged, this, changed);
        else if (auto *text = qobject_cast<QPlainTextEdit *>(line.edit))
            connect(text, &QPlainTextEdit::textChanged, this, changed);
        connect(line.all, &QPushButton::clicked, this, [this, field] { applyToAll(field); });
    }
    connect(edt_track, &QLineEdit::textChanged, this, &Tfm_id3::edt_trackChange);
    connect(Button7, &QPushButton::clicked, this, &Tfm_id3::Button7Click);
    connect(btn_ok, &QPushButton::clicked, this, &Tfm_id3::btn_okClick);
    connect(btn_cancel, &QPushButton::clicked, this, &Tfm_id3::btn_cancelClick);
}

void Tfm_id3::Execute(TaggedRows &list, QWidget *over)
{
    m_list = &list;
    // The frame's size is known once the window exists.
    create();
    if (over)
        move(centredOver(over->frameGeometry(), frameGeometry().size()));
    FormShow();
    exec();
    m_list = nullptr;
}

void Tfm_id3::FormShow()
{
    {
        const QScopedValueRollback<bool> updating(m_updating, true);
        edt_genre->clear();
        edt_genre->addItems(genreNames());
    }
    loadRows();
}

void Tfm_id3::loadRows()
{
    if (m_list)
        m_session.open(*m_list);
    else
        m_session.open({}, {});
    fillList();
    showFields();
}

void Tfm_id3::lv_id3Click(int row)
{
    if (m_session.rowCount() == 0)
        return;
    m_session.select(row);
    syncSelection();
    showFields();
}

void Tfm_id3::fieldChanged(TagField field)
{
    if (!m_updating)
        m_session.store(field, fieldText(field));
}

void Tfm_id3::fieldLeft(TagField field)
{
    m_session.leave(field, fieldText(field));
    if (field != TagField::Title)
        return;
    const int row = m_session.selectedRow();
    if (QTreeWidgetItem *item = lv_id3->topLevelItem(row))
        item->setText(0, m_session.rowText(row));
}

void Tfm_id3::applyToAll(TagField field)
{
    m_session.applyToAll(field, fieldText(field));
}

void Tfm_id3::edt_trackChange()
{
    if (!m_updating)
        m_session.storeTrack(edt_track->text());
}

void Tfm_id3::edt_trackExit()
{
    m_session.storeTrack(edt_track->text());
}

void Tfm_id3::Button7Click()
{
    loadRows();
}

void Tfm_id3::btn_okClick()
{
    if (m_list)
        m_session.commit(*m_list);
    accept();
}

void Tfm_id3::btn_cancelClick()
{
    reject();
}

void Tfm_id3::FormCloseQuery()
{
    m_session.close();
    const QScopedValueRollback<bool> updating(m_updating, true);
    lv_id3->clear();
}

void Tfm_id3::done(int result)
{
    // Every way out (Ok, Cancel, Escape, the close box) passes here.
    FormCloseQuery();
    QDialog::done(result);
}

bool Tfm_id3::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        // A context menu or a switch to another window does not leave the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
            return QDialog::eventFilter(watched, event);
        if (watched == edt_track)
            edt_trackExit();
        else if (const FieldLine *line = lineOf(watched))
            fieldLeft(line->field);
    } else if (event->type() == QEvent::MouseButtonRelease && watched == lv_id3->viewport()) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            lv_id3Click(lv_id3->indexAt(mouse->position().toPoint()).row());
    }
    return QDialog::eventFilter(watched, event);
}

void Tfm_id3::fillList()
{
    {
        const QScopedValueRollback<bool> updating(m_updating, true);
        lv_id3->clear();
        for (const QString &text : m_session.rowTexts())
            lv_id3->addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
    }
    syncSelection();
}

void Tfm_id3::syncSelection()
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    if (QTreeWidgetItem *item = lv_id3->topLevelItem(m_session.selectedRow()))
        lv_id3->setCurrentItem(item);
    else
        lv_id3->clearSelection();
}

void Tfm_id3::showFields()
{
    const AudioFileinfo shown = m_session.shownValues();
    const QScopedValueRollback<bool> updating(m_updating, true);
    edt_tatal->setText(shown.title);
    edt_art->setText(shown.artist);
    edt_alb->setText(shown.album);
    edt_year->setText(shown.year);
    edt_track->setText(TagEditorSession::trackText(shown.track));
    edt_genre->setCurrentIndex(
        edt_genre->findText(shown.genre, Qt::MatchFixedString | Qt::MatchCaseSensitive));
    edt_genre->setEditText(shown.genre);
    edt_com->setPlainText(shown.comment);
}

// Whichever way the selection moved (mouse, arrow keys, Home/End), the fields
// follow it, so they always show the row that edits go to.
void Tfm_id3::selectionMoved()
{
    if (m_updating || m_session.rowCount() == 0)
        return;
    const QList<QTreeWidgetItem *> selected = lv_id3->selectedItems();
    const int row = selected.isEmpty() ? -1 : lv_id3->indexOfTopLevelItem(selected.first());
    m_session.select(row);
    if (row != m_session.selectedRow())
        syncSelection();
    showFields();
}

QString Tfm_id3::fieldText(TagField field) const
{
    const QWidget *edit = lineOf(field)->edit;
    if (const auto *line = qobject_cast<const QLineEdit *>(edit))
        return line->text();
    if (const auto *box = qobject_cast<const QComboBox *>(edit))
        return box->currentText();
    return static_cast<const QPlainTextEdit *>(edit)->toPlainText();
}

const Tfm_id3::FieldLine *Tfm_id3::lineOf(TagField field) const
{
    return &*std::find_if(m_fields.begin(), m_fields.end(),
                          [field](const FieldLine &line) { return line.field == field; });
}

const Tfm_id3::FieldLine *Tfm_id3::lineOf(const QObject *edit) const
{
    const auto found = std::find_if(m_fields.begin(), m_fields.end(),
                                    [edit](const FieldLine &line) { return line.edit == edit; });
    return found == m_fields.end() ? nullptr : &*found;
}
