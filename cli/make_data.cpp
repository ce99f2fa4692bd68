// qir_make_data: writes the circle-in-the-square files of data/ again.
// Usage: qir_make_data DIR   (writes DIR/circle_train.csv and DIR/circle_test.csv)
#include <exception>
#include <iostream>

#include "qir.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "Usage: qir_make_data DIR\n";
    return 2;
  }
  const std::string folder = argv[1];
  try {
    qir::write_file_atomically(folder + "/circle_train.csv",
                                  qir::circle_in_square_csv(qir::circle_train_seed, 1000));
    qir::write_file_atomically(folder + "/circle_test.csv",
                                  qir::circle_in_square_csv(qir::circle_test_seed, 10000));
  } catch (const std::exception &error) {
    std::cerr << "qir_make_data: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
