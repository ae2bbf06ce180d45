#pragma once

#include <QString>
#include <QUrl>

// The addresses the program shows and opens. The help page is shipped with
// the program; unless the build names another web address, it is the
// program's web page.

// The program's web page: the configured web address, or the help page.
QUrl WebPage();
// A second page about the program: the help page, or its "How to use" part
// when the help page already is the web page.
QUrl SecondWebPage();
QString ContactEmail();
QString Credits();
// The help page's file: beside the program in the build tree, or where the
// installation put it. Empty when neither exists.
QString HelpPagePath();
