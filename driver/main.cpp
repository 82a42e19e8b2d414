// Entry of xcorrnet_v3.
int main() { return 0; }
