int zalventoMain(int, char **)
{
    return 0;
}
