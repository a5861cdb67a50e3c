// Program entry of the Windows driver: the one place that picks the Windows backends.

int main()
{
    return 0;
}
