// The program the trust verifier tests sign in several ways.
int main()
{
    return 0;
}
