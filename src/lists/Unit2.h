#pragma once
// The proxy checker window. Created hidden at start-up and kept until the program ends; it is
// shown modally over the main window, and closing it only hides it.

#include "win/Form.h"

class TForm1;

class TForm2 : public Form {
public:
    void Create(TForm1& mainWindow);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};
