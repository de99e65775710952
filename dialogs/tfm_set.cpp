#include "tfm_set.h"

#include "messageerror.h"
#include "messages.h"
#include "wmaprofiles.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 351;
constexpr int kHeight = 191;
} // namespace

Tfm_set::Tfm_set(QWidget *parent)
    : SonbrelDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Settings"));

    GroupBox2 = new QGroupBox(QStringLiteral("WMA Format"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    cb_wma = new QComboBox(GroupBox2);
    cb_wma->setObjectName(QStringLiteral("cb_wma"));
    cb_wma->setEditable(false);
    for (const WmaProfile &profile : wmaProfiles())
        cb_wma->addItem(QString::fromUtf8(profile.text));
    cb_wma->setMaxVisibleItems(16);
    auto *groupLayout = new QVBoxLayout(GroupBox2);
    groupLayout->addWidget(cb_wma);
    groupLayout->addStretch(1);

    QHBoxLayout *buttons = okCancelRow(Ok, QStringLiteral("Ok"), Cancel, QStringLiteral("Cancel"));
    connect(Ok, &QPushButton::clicked, this, &Tfm_set::OkClick);
    connect(Cancel, &QPushButton::clicked, this, &Tfm_set::CancelClick);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox2, 1);
    layout->addLayout(buttons);

    resize(kWidth, kHeight);
}

void Tfm_set::Execute(QWidget *over)
{
    execOver(over);
}

// Reads the stored position on every opening; a value outside the table
// selects nothing (currentIndex -1).
void Tfm_set::FormShow()
{
    const int position = m_store.read ? m_store.read() : kDefaultWmaPosition;
    cb_wma->setCurrentIndex(position >= 0 && position < cb_wma->count() ? position : -1);
}

void Tfm_set::OkClick()
{
    if (m_store.write) {
        try {
            m_store.write(cb_wma->currentIndex());
        } catch (const MessageError &e) {
            Messages::error(e.message());
            return; // stay open so the user can retry or cancel
        }
    }
    accept();
}

void Tfm_set::CancelClick()
{
    reject();
}

void Tfm_set::opened(bool)
{
    FormShow();
}
