/* The baseline greeting's start-up is measured against: the same two lines,
 * both through printf, in plain C, linked the default way. */
#include <stdio.h>

int main(void)
{
    printf("Hello Belmorax, C style\n");
    printf("Hello Belmorax, C++ style \n");
    return 0;
}
