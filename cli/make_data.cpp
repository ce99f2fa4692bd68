// qir_make_data: writes the circle-in-the-square files of data/ again.
// Usage: qir_make_data DIR   (writes DIR/circle_train.csv and DIR/circle_test.csv)
#include <exception>
#include <iostream>

#include "atomic_file.h"
#include "circle_data.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "Usage: qir_make_data DIR\n";
    return 2;
  }
  const std::string folder = argv[1];
  try {
    qircli::write_file_atomically(folder + "/circle_train.csv",
                                  qircli::circle_in_square_csv(qircli::circle_train_seed, 1000));
    qircli::write_file_atomically(folder + "/circle_test.csv",
                                  qircli::circle_in_square_csv(qircli::circle_test_seed, 10000));
  } catch (const std::exception &error) {
    std::cerr << "qir_make_data: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
