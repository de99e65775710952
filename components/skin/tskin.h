#pragma once

#include "iskinobject.h"
#include "skindefinition.h"
#include "skinerror.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class SkinElement;

// Draws a window's whole client area from a skin file and reports clicks on
// its elements. Buttons are real child widgets, so they take keyboard focus
// and are visible to assistive technologies.
class TSkin : public QWidget {
    Q_OBJECT
public:
    explicit TSkin(QWidget *parent = nullptr);
    ~TSkin() override;

    // "mp3enc.dll" beside the executable.
    static QString defaultSkinPath();
    // The copy of the default skin built into the program.
    static QString builtinSkinPath();

    // Throws SkinError (missing file, syntax error, no form "From"); on failure
    // the previous skin stays. Element pointers stay valid until the next
    // successful load.
    void LoadSkin(const QString &path);
    void loadBuiltinSkin();
    // The skin covers `window`'s client area, below its other children.
    void AttachWindow(QWidget *window);
    // Fixes `window`'s client size and colours to the form's. Throws SkinError
    // when the skin has no such form.
    void ApplyFormSkin(QWidget *window, const QString &formName);
    // The root element (the form) for the attached window; nullptr for any
    // other window or while no skin is loaded.
    ISkinObject *GetWindowObject(QWidget *window);

    QSize sizeHint() const override;

signals:
    void OnClick(QObject *sender, ISkinObject *source);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void load(const QString &path, const QString &shownName);
    void build(const SkinFormDef &form);
    void discardWidgets();
    SkinElement *elementAt(const QPoint &pos) const;
    void paintElement(QPainter &painter, const SkinElement &element) const;

    SkinDefinition m_skin;
    const SkinFormDef *m_form = nullptr;
    std::unique_ptr<SkinElement> m_root;
    QPointer<QWidget> m_window;
    SkinElement *m_pressed = nullptr;
};
