#include "app/Startup.h"

int main(int argc, char* argv[])
{
    return vn::qMain(argc, argv);
}
