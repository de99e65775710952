#include "skinelement.h"

#include <QAbstractButton>
#include <QLabel>

SkinElement::SkinElement(QWidget *canvas, SkinElementDef def)
    : canvas_(canvas), def_(std::move(def)), rect_(def_.rect), text_(def_.text)
{
}

ISkinObject *SkinElement::FindObject(const QString &name)
{
    if (def_.name == name)
        return this;
    for (const auto &child : children_)
        if (ISkinObject *found = child->FindObject(name))
            return found;
    return nullptr;
}

void SkinElement::SetText(const QString &text)
{
    text_ = text;
    if (auto *button = qobject_cast<QAbstractButton *>(widget_))
        button->setText(text);
    else if (auto *label = qobject_cast<QLabel *>(widget_))
        label->setText(text);
    else
        canvas_->update(rect_);
}

SkinRect SkinElement::GetRect() const
{
    return SkinRect{rect_.left(), rect_.top(), rect_.left() + rect_.width(), rect_.top() + rect_.height()};
}

void SkinElement::SetRect(const SkinRect &rect)
{
    // A right edge left of the left edge (or bottom above top) is an empty element.
    const QRect next(rect.left, rect.top, std::max(0, rect.right - rect.left),
                     std::max(0, rect.bottom - rect.top));
    dirty_ = dirty_.united(rect_).united(next);
    rect_ = next;
    if (widget_)
        widget_->setGeometry(rect_);
    else
        canvas_->update(dirty_);
}

void SkinElement::Refresh()
{
    if (widget_) {
        widget_->repaint();
    } else {
        const QRect area = dirty_.united(rect_);
        if (!area.isEmpty())
            canvas_->repaint(area);
    }
    dirty_ = QRect();
}

void SkinElement::setWidget(QWidget *widget)
{
    widget_ = widget;
    if (widget_)
        widget_->setGeometry(rect_);
}

SkinElement *SkinElement::addChild(std::unique_ptr<SkinElement> child)
{
    children_.push_back(std::move(child));
    return children_.back().get();
}
