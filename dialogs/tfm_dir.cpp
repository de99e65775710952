#include "tfm_dir.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {
constexpr int kClientWidth = 287;
constexpr int kClientHeight = 254;
} // namespace

Tfm_dir::Tfm_dir(QWidget *parent)
    : SonbrelDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_model(new QFileSystemModel(this))
{
    // Folders only; the model lists a folder when the tree first expands it,
    // so a large file system costs nothing until the user opens it up.
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_model->setOption(QFileSystemModel::DontWatchForChanges);
    m_model->setRootPath(QStringLiteral("/"));

    ShellTreeView1 = new QTreeView(this);
    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setModel(m_model);
    ShellTreeView1->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        ShellTreeView1->hideColumn(column);
    ShellTreeView1->setRootIsDecorated(false);
    // The view selects on a right click as well as on a left one.
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this](const QString &path) {
        if (m_homeParentsLoading.removeOne(path))
            keepCurrentInSight();
    });
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] {
        keepCurrentInSight();
        if (m_homeParentsLoading.isEmpty())
            m_followCurrent = false;
    });
    const auto stopFollowing = [this] { m_followCurrent = false; };
    connect(ShellTreeView1->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, stopFollowing);
    connect(this, &QDialog::finished, this, stopFollowing);

    QHBoxLayout *buttons =
        okCancelRow(btn_ok, QStringLiteral("btn_ok"), btn_cancel, QStringLiteral("btn_cancel"));
    connect(btn_ok, &QPushButton::clicked, this, &Tfm_dir::btn_okClick);
    connect(btn_cancel, &QPushButton::clicked, this, &Tfm_dir::btn_cancelClick);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(ShellTreeView1, 1);
    layout->addLayout(buttons);

    setFixedSize(kClientWidth, kClientHeight);
}

QString Tfm_dir::Execute(const QString &title, QWidget *over)
{
    setWindowTitle(title);
    m_result.clear();
    execOver(over);
    return result();
}

void Tfm_dir::btn_okClick()
{
    m_result = selectedPath();
    accept();
}

void Tfm_dir::btn_cancelClick()
{
    reject();
}

// Cancel, Escape and the close box all end up here.
void Tfm_dir::reject()
{
    m_result.clear();
    QDialog::reject();
}

void Tfm_dir::opened(bool first)
{
    if (first)
        selectHomeFolder();
}

// Only the folders on the way from the root to home are listed here.
void Tfm_dir::selectHomeFolder()
{
    const QModelIndex home = m_model->index(QDir::homePath());
    if (!home.isValid())
        return;
    for (QModelIndex up = home.parent(); up.isValid(); up = up.parent()) {
        ShellTreeView1->expand(up);
        m_homeParentsLoading << m_model->filePath(up);
    }
    ShellTreeView1->expand(home);
    ShellTreeView1->setCurrentIndex(home);
    m_followCurrent = true;
    ShellTreeView1->scrollTo(home);
}

void Tfm_dir::keepCurrentInSight()
{
    if (m_followCurrent && ShellTreeView1->currentIndex().isValid())
        ShellTreeView1->scrollTo(ShellTreeView1->currentIndex());
}

QString Tfm_dir::selectedPath() const
{
    const QModelIndexList rows = ShellTreeView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : m_model->filePath(rows.first());
}
