#include "ui/dialoginfo.h"

DialogInfo::DialogInfo(QWidget* parent)
    : QDialog(parent)
{
}

DialogInfo::~DialogInfo() = default;
