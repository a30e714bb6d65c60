#pragma once

#include <QColor>
#include <QString>

class QWidget;

// Every modal question and message box of the program goes through this interface, so that
// tests can answer them. The default shows real message boxes without a parent.
class Prompt
{
public:
    virtual ~Prompt() = default;
    // Yes/No question without title or icon, Yes being the default; true for Yes.
    virtual bool question(const QString& text) = 0;
    virtual void critical(const QString& title, const QString& text) = 0;
    virtual void warning(const QString& title, const QString& text) = 0;
    virtual void information(const QString& title, const QString& text) = 0;
    // A folder chosen by the user, shown from startDir; empty when cancelled. Unless a prompt
    // answers it, the choice counts as cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& caption, const QString& startDir);
    // A colour chosen by the user, starting from initial; invalid when cancelled. Unless a
    // prompt answers it, the choice counts as cancelled.
    virtual QColor chooseColor(QWidget* parent, const QColor& initial, const QString& title);
    // Warning box with Ok and Cancel, no default button; true for Ok. Cancel unless overridden.
    virtual bool confirm(const QString& title, const QString& text);
};

// The prompt in use; the message-box prompt unless one was installed.
Prompt* prompt();
// Installs a prompt (not owned); nullptr restores the message boxes.
void setPrompt(Prompt* p);
