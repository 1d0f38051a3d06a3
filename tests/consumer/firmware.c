/* Stands for a firmware build's output: any target whose file is an image. */
int main(void) {
  return 0;
}
