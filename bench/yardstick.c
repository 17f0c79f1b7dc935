/* The benchmark's yardstick: what console_threads does, written as plainly as
 * C allows. The prompt, four threads spinning on one atomic flag, getchar
 * until a 5 or the end of input, the join. Nothing else. */
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>

static atomic_int stop;

static void *spin(void *unused) {
  (void)unused;
  while (atomic_load(&stop) == 0) {
  }
  return NULL;
}

int main(void) {
  printf("Stop the infinite looooooooooop entering 5 and pressing Enter \n>>>> ");
  fflush(stdout);
  pthread_t threads[4];
  for (int i = 0; i < 4; ++i) {
    if (pthread_create(&threads[i], NULL, spin, NULL) != 0) {
      return i == 0 ? 4 : i;
    }
  }
  int key;
  do {
    key = getchar();
  } while (key != '5' && key != EOF);
  atomic_store(&stop, 1);
  for (int i = 0; i < 4; ++i) {
    pthread_join(threads[i], NULL);
  }
  return key == '5' ? 1 : 5;
}
