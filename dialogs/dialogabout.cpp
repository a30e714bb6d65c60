#include "dialogs/dialogabout.h"

DialogAbout::DialogAbout(QWidget* parent)
    : QDialog(parent)
{
}

DialogAbout::~DialogAbout() = default;
