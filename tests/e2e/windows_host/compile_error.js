// A statement the JScript engine cannot compile: the host names its line and column and shows the line.
WScript.Echo("not a word of this script runs");
var total = ;
