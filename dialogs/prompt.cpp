#include "dialogs/prompt.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace
{

class MessageBoxPrompt : public Prompt
{
public:
    bool question(const QString& text) override
    {
        QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() != QMessageBox::No;
    }
    void critical(const QString& title, const QString& text) override
    {
        QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
    }
    void warning(const QString& title, const QString& text) override
    {
        QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
    }
    void information(const QString& title, const QString& text) override
    {
        QMessageBox::information(nullptr, title, text, QMessageBox::Ok);
    }
    QString chooseFolder(QWidget* parent, const QString& caption, const QString& startDir) override
    {
        return QFileDialog::getExistingDirectory(
            parent, caption, startDir, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    }
    QColor chooseColor(QWidget* parent, const QColor& initial, const QString& title) override
    {
        return QColorDialog::getColor(initial, parent, title);
    }
    bool confirm(const QString& title, const QString& text) override
    {
        return QMessageBox::warning(nullptr, title, text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    }
};

Prompt* gPrompt = nullptr;

} // namespace

QString Prompt::chooseFolder(QWidget*, const QString&, const QString&)
{
    return QString();
}

QColor Prompt::chooseColor(QWidget*, const QColor&, const QString&)
{
    return QColor();
}

bool Prompt::confirm(const QString&, const QString&)
{
    return false;
}

Prompt* prompt()
{
    static MessageBoxPrompt boxes;
    return gPrompt ? gPrompt : &boxes;
}

void setPrompt(Prompt* p)
{
    gPrompt = p;
}
