#pragma once

#include <QString>
#include <QtGlobal>

struct SkinRect {
    qint32 left = 0;
    qint32 top = 0;
    qint32 right = 0;
    qint32 bottom = 0;
    bool operator==(const SkinRect &) const = default;
};

// The text facet of a skin element.
class ISkinText {
public:
    virtual ~ISkinText() = default;
    virtual void SetText(const QString &text) = 0; // empty clears
    virtual QString Text() const = 0;
};

// The frame facet of a skin element: its rectangle in window coordinates.
class ISkinFrame {
public:
    virtual ~ISkinFrame() = default;
    virtual SkinRect GetRect() const = 0;
    virtual void SetRect(const SkinRect &rect) = 0;
    virtual void Refresh() = 0; // repaint at once
};

// One named element of the skin. Elements are owned by the skin; pointers
// stay valid until the next LoadSkin.
class ISkinObject {
public:
    virtual ~ISkinObject() = default;
    virtual QString GetName() const = 0;
    // The element of that name at or below this one, or nullptr.
    virtual ISkinObject *FindObject(const QString &name) = 0;
    virtual ISkinText *TextFacet() = 0;
    virtual ISkinFrame *FrameFacet() = 0;
};
