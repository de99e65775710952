#include "tskin.h"

#include "skinbutton.h"
#include "skinelement.h"
#include "skinglyphs.h"
#include "skinparser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

const QString kMainForm = QStringLiteral("From");
constexpr qint64 kMaxSkinBytes = 1 << 20;

QBrush fillBrush(const QColor &top, const QColor &bottom, const QRectF &area)
{
    if (!bottom.isValid() || bottom == top)
        return top;
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

QFont sizedFont(QFont font, qreal elementSize, qreal formSize, bool bold)
{
    const qreal size = elementSize > 0 ? elementSize : formSize;
    if (size > 0)
        font.setPointSizeF(size);
    font.setBold(bold);
    return font;
}

} // namespace

TSkin::TSkin(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Skin1"));
}

// The elements go before QWidget deletes the child widgets that back them.
TSkin::~TSkin() = default;

QString TSkin::defaultSkinPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/mp3enc.dll");
}

QString TSkin::builtinSkinPath()
{
    return QStringLiteral(":/sonbrel/skins/mp3enc.dll");
}

void TSkin::LoadSkin(const QString &path)
{
    load(path, QDir::toNativeSeparators(path));
}

void TSkin::loadBuiltinSkin()
{
    Q_INIT_RESOURCE(sonbrelskin);
    load(builtinSkinPath(), QStringLiteral("built-in skin"));
}

void TSkin::load(const QString &path, const QString &shownName)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SkinError(
            QStringLiteral("Cannot open the skin file \"%1\": %2").arg(shownName, file.errorString()));
    if (file.size() > kMaxSkinBytes)
        throw SkinError(QStringLiteral("The skin file \"%1\" is too large to be a skin.").arg(shownName));
    SkinDefinition skin = ParseSkin(QString::fromUtf8(file.readAll()), shownName);
    if (!skin.form(kMainForm))
        throw SkinError(
            QStringLiteral("%1: the skin has no form \"%2\" for the main window.").arg(shownName, kMainForm));

    m_skin = std::move(skin);
    build(*m_skin.form(kMainForm));
}

void TSkin::discardWidgets()
{
    m_pressed = nullptr;
    if (!m_root)
        return;
    for (const auto &child : m_root->children()) {
        if (QWidget *w = child->widget()) {
            // A click handler may be reloading the skin from inside this very
            // button's signal, so the widget is retired, not deleted here.
            QObject::disconnect(w, nullptr, this, nullptr);
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
    }
    m_root.reset();
}

void TSkin::build(const SkinFormDef &form)
{
    discardWidgets();
    m_form = &form;

    SkinElementDef rootDef;
    rootDef.kind = SkinKind::Form;
    rootDef.name = form.name;
    rootDef.line = form.line;
    rootDef.rect = QRect(QPoint(0, 0), form.size);
    m_root = std::make_unique<SkinElement>(this, rootDef);

    for (const SkinElementDef &def : form.elements) {
        SkinElement *element = m_root->addChild(std::make_unique<SkinElement>(this, def));
        if (def.kind == SkinKind::Button) {
            auto *button = new SkinButton(def, form, this);
            connect(button, &QAbstractButton::clicked, this,
                    [this, element] { emit OnClick(this, element); });
            element->setWidget(button);
            button->show();
        } else if (def.kind == SkinKind::Text) {
            auto *label = new QLabel(def.text, this);
            label->setObjectName(def.name);
            label->setAccessibleDescription(def.name);
            label->setAlignment(def.align);
            label->setFont(sizedFont(font(), def.fontSize, form.fontSize, def.bold));
            label->setTextFormat(Qt::PlainText);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, def.color.isValid() ? def.color : form.panelText);
            label->setPalette(palette);
            // Clicks on a text reach the skin, which reports them as the element's.
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            element->setWidget(label);
            label->show();
        }
    }
    if (!m_window)
        resize(form.size);
    updateGeometry();
    update();
}

void TSkin::AttachWindow(QWidget *window)
{
    if (!window || window == this)
        throw SkinError(QStringLiteral("The skin can't be attached to that window."));
    if (m_window && m_window != window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (parentWidget() != window)
        setParent(window);
    setGeometry(window->rect());
    lower();
    show();
    window->installEventFilter(this);
}

void TSkin::ApplyFormSkin(QWidget *window, const QString &formName)
{
    const SkinFormDef *form = m_skin.form(formName);
    if (!form)
        throw SkinError(QStringLiteral("The skin has no form \"%1\".").arg(formName));
    if (!window)
        throw SkinError(QStringLiteral("No window to apply the form \"%1\" to.").arg(formName));
    if (form != m_form)
        build(*form);

    window->setFixedSize(form->size);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Base, form->window);
    palette.setColor(QPalette::Text, form->windowText);
    palette.setColor(QPalette::Window, form->panel);
    palette.setColor(QPalette::WindowText, form->panelText);
    palette.setColor(QPalette::Button, form->panel);
    palette.setColor(QPalette::ButtonText, form->panelText);
    palette.setColor(QPalette::Highlight, form->accent);
    window->setPalette(palette);
    if (window == m_window)
        setGeometry(window->rect());
}

ISkinObject *TSkin::GetWindowObject(QWidget *window)
{
    if (!m_root || !window)
        return nullptr;
    if (window == m_window || window == this || (!m_window && window == parentWidget()))
        return m_root.get();
    return nullptr;
}

QSize TSkin::sizeHint() const
{
    return m_form ? m_form->size : QWidget::sizeHint();
}

bool TSkin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Resize)
        setGeometry(m_window->rect());
    return QWidget::eventFilter(watched, event);
}

SkinElement *TSkin::elementAt(const QPoint &pos) const
{
    if (!m_root)
        return nullptr;
    const auto &children = m_root->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const SkinElement &e = **it;
        if (e.def().kind != SkinKind::Button && e.rect().contains(pos))
            return it->get();
    }
    return m_root.get();
}

void TSkin::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton ? elementAt(event->position().toPoint()) : nullptr;
}

void TSkin::mouseReleaseEvent(QMouseEvent *event)
{
    SkinElement *pressed = std::exchange(m_pressed, nullptr);
    if (pressed && event->button() == Qt::LeftButton && elementAt(event->position().toPoint()) == pressed)
        emit OnClick(this, pressed);
}

void TSkin::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!m_form) {
        p.fillRect(rect(), palette().window());
        return;
    }
    p.fillRect(rect(),
               fillBrush(m_form->fill.isValid() ? m_form->fill : m_form->panel, m_form->fill2, rect()));
    p.setRenderHint(QPainter::Antialiasing);
    for (const auto &child : m_root->children())
        if (!child->widget())
            paintElement(p, *child);
}

void TSkin::paintElement(QPainter &p, const SkinElement &element) const
{
    const SkinElementDef &def = element.def();
    const QRect box = element.rect();
    if (box.isEmpty())
        return;
    const QRectF area = QRectF(box);

    QColor fill = def.fill;
    QColor fill2 = def.fill2;
    if (def.kind == SkinKind::Bar && !fill.isValid()) {
        fill = m_form->accent.lighter(125);
        fill2 = m_form->accent;
    }
    if (fill.isValid() || def.border.isValid()) {
        // A 1-pixel border sits on the pixel centres so it stays crisp.
        const QRectF shape = def.border.isValid() ? area.adjusted(0.5, 0.5, -0.5, -0.5) : area;
        p.setPen(def.border.isValid() ? QPen(def.border, 1) : Qt::NoPen);
        p.setBrush(fill.isValid() ? fillBrush(fill, fill2, area) : QBrush(Qt::NoBrush));
        if (def.radius > 0)
            p.drawRoundedRect(shape, def.radius, def.radius);
        else
            p.drawRect(shape);
    }
    if (!def.icon.isEmpty())
        PaintSkinGlyph(p, def.icon, area, def.color.isValid() ? def.color : m_form->accent);
    if (!element.Text().isEmpty()) {
        p.setPen(def.color.isValid() ? def.color : m_form->panelText);
        p.setFont(sizedFont(font(), def.fontSize, m_form->fontSize, def.bold));
        p.drawText(area.adjusted(4, 0, -4, 0), int(def.align), element.Text());
    }
}
