// A registry tool that answers at once, so that a lookup measures the companion alone.
#include <unistd.h>

int main() {
    static const char answer[] = "{\"hits\":[],\"mode\":\"lexical\"}\n";
    return write(1, answer, sizeof answer - 1) == sizeof answer - 1 ? 0 : 1;
}
