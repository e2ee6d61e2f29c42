/* Does nothing: linked statically, it shows how much of any program's start
 * the C runtime's own set-up takes on this machine, the floor no linking
 * choice can go below. */
int main(void)
{
    return 0;
}
