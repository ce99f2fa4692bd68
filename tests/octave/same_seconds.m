function text = same_seconds(text)
%SAME_SECONDS  Console text with the elapsed-seconds figure set to 0: a
%   whole-second boundary of the process clock may fall inside any call.
text = regexprep(text, ' in \d+ seconds', ' in 0 seconds');
end
