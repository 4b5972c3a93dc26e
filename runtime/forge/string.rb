# String extensions: the interpreter's own split is kept under another name
# for the native String.split, and text wrapping for the console and the
# notification band.
class String
  alias __original_split__ split

  # Greedy word wrap: every line holds at most +length+ characters unless a
  # single word is longer. Blank input gives one empty line.
  def self.wrapped_lines(text, length)
    text.to_s.wrapped_lines(length)
  end

  def wrapped_lines(length)
    length = 1 if length < 1
    lines = []
    each_line do |raw|
      raw = raw.chomp
      if raw.length <= length
        lines << raw
        next
      end
      current = nil
      raw.split(" ").each do |word|
        if current.nil?
          current = word
        elsif current.length + 1 + word.length <= length
          current = current + " " + word
        else
          lines << current
          current = word
        end
        while current.length > length
          lines << current[0, length]
          current = current[length..-1]
        end
      end
      lines << (current || "")
    end
    lines << "" if lines.empty?
    lines
  end
end
