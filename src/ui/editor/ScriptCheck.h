#pragma once

#include <QString>

namespace zul::ui {

// What the script check needs of the editor's text box.
class ScriptBox {
public:
    virtual ~ScriptBox();
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    // Moves the keyboard focus to the box; fails (ComError) when it cannot.
    virtual void focus() = 0;
};

// Trims blanks (spaces) at both ends and nothing else.
QString trimBlanks(const QString& s);

// The check before a save or run: refuses an empty script (3033) and mends
// the rest in place: runs of blanks collapsed, "open" put in front and "quit"
// appended when the words are missing. Any failure is reported and the check
// then returns what it holds, which is True.
bool CheckScript(ScriptBox& box);

} // namespace zul::ui
