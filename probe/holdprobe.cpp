#include <stdio.h>

int main()
{
    printf("failure - %u\n", static_cast<unsigned>(__LINE__));
    return 1;
}
