int zalventoMain(int argc, char **argv);

int main(int argc, char **argv)
{
    return zalventoMain(argc, argv);
}
