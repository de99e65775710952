#pragma once

#include <QLabel>

// A label for a folder path: a path too long for the label is elided in the
// middle, so both the root and the last folder stay visible, and the full
// path is the tooltip and the accessible name.
class TSkinLabel : public QLabel {
    Q_OBJECT
public:
    explicit TSkinLabel(QWidget *parent = nullptr);

    void setCaption(const QString &caption);
    QString caption() const { return m_caption; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();

    QString m_caption;
};
