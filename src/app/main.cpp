#include "app/converter_app.h"

int main(int argc, char** argv)
{
    CConverterApp app;
    return app.InitInstance(argc, argv);
}
