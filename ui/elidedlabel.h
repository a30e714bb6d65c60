#pragma once

#include <QLabel>

// A one-line label that never asks for more room than it is given: a text longer than its
// width ends in "…", and the whole text is its tooltip. A long reason in the status bar would
// otherwise make the main window wider than a laptop's screen.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
