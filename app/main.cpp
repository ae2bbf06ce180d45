#include "app/SpectrumApp.h"

int main(int argc, char** argv) {
    CSpectrumApp app(argc, argv);
    app.InitInstance();
    return 0;
}
