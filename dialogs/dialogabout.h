#pragma once

#include <QDialog>
#include <QString>

namespace Ui
{
class DialogAbout;
}

// The program's name and version, with the maker's and the representative's logos and
// contacts. Nothing in it changes after construction.
class DialogAbout : public QDialog
{
    Q_OBJECT
public:
    explicit DialogAbout(QWidget* parent = nullptr);
    ~DialogAbout() override;

    // The two lines of the name and the version: the version pushed to the right by blanks.
    static QString nameAndVersion();

private:
    Ui::DialogAbout* ui;
};
