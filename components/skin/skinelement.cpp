#include "skinelement.h"

#include <QAbstractButton>
#include <QLabel>

SkinElement::SkinElement(QWidget *canvas, SkinElementDef def)
    : m_canvas(canvas), m_def(std::move(def)), m_rect(m_def.rect), m_text(m_def.text)
{
}

ISkinObject *SkinElement::FindObject(const QString &name)
{
    if (m_def.name == name)
        return this;
    for (const auto &child : m_children)
        if (ISkinObject *found = child->FindObject(name))
            return found;
    return nullptr;
}

void SkinElement::SetText(const QString &text)
{
    m_text = text;
    if (auto *button = qobject_cast<QAbstractButton *>(m_widget))
        button->setText(text);
    else if (auto *label = qobject_cast<QLabel *>(m_widget))
        label->setText(text);
    else
        m_canvas->update(m_rect);
}

SkinRect SkinElement::GetRect() const
{
    return SkinRect{m_rect.left(), m_rect.top(), m_rect.left() + m_rect.width(),
                    m_rect.top() + m_rect.height()};
}

void SkinElement::SetRect(const SkinRect &rect)
{
    // A right edge left of the left edge (or bottom above top) is an empty element.
    const QRect next(rect.left, rect.top, std::max(0, rect.right - rect.left),
                     std::max(0, rect.bottom - rect.top));
    m_dirty = m_dirty.united(m_rect).united(next);
    m_rect = next;
    if (m_widget)
        m_widget->setGeometry(m_rect);
    else
        m_canvas->update(m_dirty);
}

void SkinElement::Refresh()
{
    if (m_widget) {
        m_widget->repaint();
    } else {
        const QRect area = m_dirty.united(m_rect);
        if (!area.isEmpty())
            m_canvas->repaint(area);
    }
    m_dirty = QRect();
}

void SkinElement::setWidget(QWidget *widget)
{
    m_widget = widget;
    if (m_widget)
        m_widget->setGeometry(m_rect);
}

SkinElement *SkinElement::addChild(std::unique_ptr<SkinElement> child)
{
    m_children.push_back(std::move(child));
    return m_children.back().get();
}
