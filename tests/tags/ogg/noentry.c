/* Stands in for a comment library that loads but lacks its entry points. */
int sonbrel_noentry(void)
{
    return 0;
}
