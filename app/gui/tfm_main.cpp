#include "tfm_main.h"

#include "desktoplinks.h"
#include "geometry.h"
#include "listfollower.h"
#include "sourcekinds.h"

#include "messages.h"
#include "profilefile.h"
#include "taudiofile2.h"
#include "tagintake.h"
#include "tfm_dir.h"
#include "tfm_id3.h"
#include "tfm_set.h"
#include "tskin.h"
#include "tskinlabel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTableView>

namespace {

// The window's fixed layout: its size, and the file list and folder label
// placed in the skin's frames.
constexpr QSize kWindowSize(508, 380);
constexpr QRect kListArea(24, 87, 446, 189);
constexpr QRect kFolderLabelArea(106, 67, 201, 14);

std::unique_ptr<TAudioFile2> makeInstance(std::unique_ptr<IAudioFile2> impl)
{
    return impl ? std::make_unique<TAudioFile2>(std::move(impl)) : std::make_unique<TAudioFile2>();
}

// The widest text each column shows in practice, by column.
const QStringList kWidestCells{QString(),
                               QStringLiteral("192000 Hz"),
                               QStringLiteral(" Stereo "),
                               QStringLiteral("99:59:59"),
                               QStringLiteral("9999.99MB"),
                               FileListModel::rowStateText(RowState::Converting)};

// The desktop's font, made smaller only as far as the fixed column widths
// need to show every cell whole.
QFont listFont(const QTableView *view, const QList<int> &widths)
{
    QFont font = view->font();
    const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 1;
    const auto fits = [&] {
        const QFontMetrics metrics(font);
        for (int column = 1; column < widths.size(); ++column) {
            if (metrics.horizontalAdvance(kWidestCells.value(column)) + margins > widths[column])
                return false;
        }
        return true;
    };
    while (!fits() && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

} // namespace

Tfm_main::Tfm_main(std::unique_ptr<IAudioFile2> reader, std::unique_ptr<IAudioFile2> writer, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_reader(makeInstance(std::move(reader))), m_writer(makeInstance(std::move(writer))),
      m_files(m_model, *m_reader), m_run(m_model, *m_reader, *m_writer, m_held),
      m_progress([this] { return m_run.ConversionActive(); })
{
    setWindowTitle(QStringLiteral("Sonbrel"));
    setFixedSize(kWindowSize);
    setAcceptDrops(true);

    Skin1 = new TSkin(this);
    connect(Skin1, &TSkin::OnClick, this, &Tfm_main::Skin1Click);
    SkinLabel1 = new TSkinLabel(this);
    SkinLabel1->setGeometry(kFolderLabelArea);
    lv = new QTableView(this);
    setUpFileListView();
    setUpShortcuts();

    m_files.setTagIntake(TagIntake);
    m_run.setTagWriter(CarryTags);
    m_run.addObserver(m_progress);
    m_follower = std::make_unique<ListFollower>(*lv);
    m_run.addObserver(*m_follower);

    skinPath = TSkin::defaultSkinPath();
    helpPage = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("faq.html"));
    chooseFiles = [this] {
        return QFileDialog::getOpenFileNames(this, QString(), QString(), openFileFilter(), nullptr,
                                             QFileDialog::Options());
    };
    openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

Tfm_main::~Tfm_main() = default;

void Tfm_main::setDialogs(Tfm_dir *dir, Tfm_set *set, Tfm_id3 *id3)
{
    m_dir = dir;
    m_set = set;
    m_id3 = id3;
}

void Tfm_main::setUpFileListView()
{
    lv->setModel(&m_model);
    lv->setGeometry(kListArea);
    lv->setShowGrid(true);
    lv->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv->setSortingEnabled(false);
    lv->setWordWrap(false);
    const QList<int> widths = FileListModel::columnWidths();
    lv->setFont(listFont(lv, widths));
    lv->verticalHeader()->hide();
    lv->verticalHeader()->setDefaultSectionSize(lv->fontMetrics().height() + 4);
    lv->horizontalHeader()->setSectionsClickable(false);
    lv->horizontalHeader()->setHighlightSections(false);
    lv->horizontalHeader()->setStretchLastSection(false);
    for (int column = 0; column < widths.size(); ++column)
        lv->setColumnWidth(column, widths[column]);
    connect(&m_model, &FileListModel::titleColumnWidthChanged, lv,
            [this](int width) { lv->setColumnWidth(0, width); });
    lv->setAccessibleName(QStringLiteral("Files to convert"));
}

void Tfm_main::setUpShortcuts()
{
    const auto bind = [this](const QKeySequence &keys, const QString &element) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, element] { dispatch(element); });
    };
    bind(QKeySequence::Open, QStringLiteral("addfile"));
    bind(QKeySequence(Qt::Key_Delete), QStringLiteral("remove"));
    bind(QKeySequence::HelpContents, QStringLiteral("help"));
    bind(QKeySequence(Qt::CTRL | Qt::Key_Return), QStringLiteral("converter"));
    bind(QKeySequence(Qt::CTRL | Qt::Key_Enter), QStringLiteral("converter"));
    bind(QKeySequence(Qt::Key_Escape), QStringLiteral("stop"));
    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto *all = new QShortcut(QKeySequence::SelectAll, this);
    connect(all, &QShortcut::activated, lv, &QTableView::selectAll);
}

void Tfm_main::showEvent(QShowEvent *event)
{
    if (!m_shown) {
        // Sent before the window is mapped, so it appears where it belongs.
        if (const QScreen *screen = this->screen())
            move(centredOver(screen->availableGeometry(), frameGeometry().size()));
    }
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void Tfm_main::FormShow()
{
    try {
        try {
            Skin1->LoadSkin(skinPath);
        } catch (const SkinError &error) {
            // Show what is wrong, then draw the built-in copy so the window stays usable.
            Messages::error(error.message());
            Skin1->loadBuiltinSkin();
        }
        Skin1->AttachWindow(this);
        Skin1->ApplyFormSkin(this, QStringLiteral("From"));

        ISkinFrame *bar = nullptr;
        ISkinText *percentText = nullptr;
        ISkinFrame *percentFrame = nullptr;
        if (ISkinObject *root = Skin1->GetWindowObject(this)) {
            if (ISkinObject *pbpos = root->FindObject(QStringLiteral("pbpos"))) {
                percentText = pbpos->TextFacet();
                percentFrame = pbpos->FrameFacet();
            }
            if (ISkinObject *pb = root->FindObject(QStringLiteral("pb")))
                bar = pb->FrameFacet();
        }
        m_progress.setElements(bar, percentText, percentFrame);
    } catch (const std::exception &error) {
        Messages::error(QString::fromUtf8(error.what()));
    }

    try {
        m_reader->SetActive(true);
        m_writer->SetActive(true);
    } catch (const AudioFileError &error) {
        Messages::error(error.message());
    }

    // Closing writes the settings back, so they are read whatever failed above.
    m_settings = std::make_unique<ProfileFile>(ProfileFile::defaultPath());
    m_held = readStartupSettings(*m_settings);
    SkinLabel1->setCaption(m_held.folderLabel);
    m_run.setSettings(m_settings.get());

    lv->setGeometry(kListArea);
    lv->raise();
    SkinLabel1->raise();
}

void Tfm_main::Skin1Click(QObject *, ISkinObject *source)
{
    if (source)
        dispatch(source->GetName());
}

void Tfm_main::dispatch(const QString &elementName)
{
    emit dispatched(elementName);
    const Command command = commandForElement(elementName);
    if (command == Command::None)
        return;
    if (isGuarded(command) && refuseWhileConverting())
        return;
    try {
        runCommand(command);
    } catch (const std::exception &error) {
        // What a command does not handle itself ends it and is shown; the program goes on.
        Messages::error(QString::fromUtf8(error.what()));
    }
}

bool Tfm_main::refuseWhileConverting()
{
    if (!ConversionActive())
        return false;
    Messages::information(QStringLiteral("Please stop converting first!"));
    return true;
}

void Tfm_main::runCommand(Command command)
{
    switch (command) {
    case Command::SetPath:
        if (m_dir) {
            const QString folder = m_dir->Execute(QStringLiteral("Output Directory"), this);
            if (!folder.isEmpty()) {
                SkinLabel1->setCaption(folder);
                m_held.outputFolder = folder;
            }
        }
        break;
    case Command::AddFolder:
        AddFolder();
        break;
    case Command::AddFile:
        AddFiles();
        break;
    case Command::Settings:
        if (m_set) {
            m_set->setStore(profilePositionStore(*m_settings));
            m_set->Execute(this);
        }
        break;
    case Command::Remove:
        DeleteSelected();
        break;
    case Command::Converter:
        m_run.ConvertAll();
        break;
    case Command::Help:
        showOnDesktop(helpPage, DesktopLinks::helpPageShowable(helpPage));
        break;
    case Command::Stop:
        m_run.stop();
        break;
    case Command::Clear:
        ClearList();
        break;
    case Command::Open:
        showOnDesktop(m_held.outputFolder, DesktopLinks::outputFolderShowable(m_held.outputFolder));
        break;
    case Command::Id3:
        if (m_id3)
            m_id3->Execute(m_model, this);
        break;
    case Command::None:
        break;
    }
}

void Tfm_main::showOnDesktop(const QString &path, const Result<> &showable)
{
    if (!showable)
        Messages::information(showable.reason());
    else if (!openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())))
        Messages::information(DesktopLinks::noLauncherMessage(path));
}

void Tfm_main::AddFiles()
{
    const QStringList paths = chooseFiles();
    if (!paths.isEmpty())
        m_files.AddPaths(paths);
}

void Tfm_main::AddFolder()
{
    if (!m_dir)
        return;
    const QString folder = m_dir->Execute(QStringLiteral("Add File Directory"), this);
    if (!folder.isEmpty())
        m_files.AddFolderFiles(folder);
}

void Tfm_main::DeleteSelected()
{
    QList<int> rows;
    for (const QModelIndex &index : lv->selectionModel()->selectedRows())
        rows << index.row();
    m_files.DeleteRows(rows);
}

void Tfm_main::ClearList()
{
    m_files.ClearList();
}

void Tfm_main::AddPaths(const QStringList &paths)
{
    if (refuseWhileConverting())
        return;
    try {
        for (const QString &given : paths) {
            const Result<QString> located = FileList::locate(given);
            if (!located) {
                Messages::information(located.reason());
                continue;
            }
            const QString &path = *located;
            if (QFileInfo(path).isDir())
                m_files.AddFolderFiles(path);
            else
                m_files.AddPaths({path});
        }
    } catch (const std::exception &error) {
        Messages::error(QString::fromUtf8(error.what()));
    }
}

void Tfm_main::FormCloseQuery()
{
    m_run.stop();
    if (!m_settings)
        return;
    try {
        writeCloseSettings(*m_settings, m_held);
    } catch (const SettingsWriteError &error) {
        // Nobody may be unable to quit: say so and close all the same.
        Messages::error(error.message());
    }
}

void Tfm_main::closeEvent(QCloseEvent *event)
{
    FormCloseQuery();
    event->accept();
}

void Tfm_main::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void Tfm_main::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    AddPaths(paths);
}
