function [X, y, feature_names] = qir_read_data(file)
%QIR_READ_DATA  Read a data file as the qir command reads it.
%   [X, y, feature_names] = qir_read_data(file) reads a delimited text file
%   of one pattern per row, the class label in the last column: X holds
%   the features, y the labels (a column of numbers, or a cell column of
%   class names when the labels are names), feature_names the header's
%   names (empty without a header). Quoted cells follow the CSV rules, as
%   R's write.csv and spreadsheets write them: a quoted number is a number
%   (R's factor levels "1" to "7" are the classes 1 to 7), other quoted
%   text a class name; a byte-order mark is skipped. dlmread and csvread
%   read a quoted cell as 0; this reader is the command's and refuses a
%   damaged file with the line at fault.
%
%   Example:
%     [X, y] = qir_read_data('data/iris.csv');
%     model = qir_fit(X, y, 'Oflag', 0);
%
%   See also QIR_FIT, QIR_PREDICT.

if nargin ~= 1 || ~ischar(file)
  error('qir_read_data:arguments', 'qir_read_data needs a file name.');
end
[X, y, feature_names] = qir_gateway('read_data', file);
end
