/* share-with-python.pd's block read from C: prints the patch's curve and what
   share.py wrote back. Build and run: cc -o share share.c && ./share */
#include <stdio.h>
#include <sys/shm.h>

int main(void)
{
    int id = shmget(7300, 64 * sizeof(float), 0); /* [karbox 7300 64] */
    if (id < 0) {
        perror("no block 7300 (open share-with-python.pd first)");
        return 1;
    }
    const float *block = shmat(id, NULL, SHM_RDONLY);
    if (block == (const float *)-1) {
        perror("shmat");
        return 1;
    }
    printf("curve:");
    for (int i = 0; i < 32; i++)
        printf(" %g", block[i]);
    printf("\nfrom share.py: %g changes, smallest %g, largest %g, mean %g\n",
        block[32], block[33], block[34], block[35]);
    shmdt(block);
    return 0;
}
