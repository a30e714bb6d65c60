#include "dialogs/dialogreport.h"

DialogReport::DialogReport(QWidget* parent)
    : QDialog(parent)
{
}

DialogReport::~DialogReport() = default;
