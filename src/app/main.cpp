#include "platform/zkApplication.h"

int main(int argc, char** argv) {
    TZkApplication app(argc, argv);
    return 0;
}
