#include "app/Entry.h"

int main(int argc, char** argv) {
    return runTulmina(argc, argv);
}
