#include "dialogs/dialogsendreport.h"

DialogSendReport::DialogSendReport(QWidget* parent)
    : QDialog(parent)
{
}

DialogSendReport::~DialogSendReport() = default;
