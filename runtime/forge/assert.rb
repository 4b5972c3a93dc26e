# The assertion object handed to every test method as its second argument.
# A failing assertion raises a RuntimeError whose text describes the values;
# the test runner reports that text. Every assertion, passing or failing,
# marks the object so the runner can tell a test that checked nothing.

module ORB
  class Assert
    attr_reader :assertion_performed

    def initialize
      @assertion_performed = false
    end

    def assertion_performed?
      @assertion_performed
    end

    # For tests that check with their own code and only need to say so.
    def ok!
      @assertion_performed = true
      nil
    end

    def true! value, message = nil
      @assertion_performed = true
      raise "#{value} was not truthy.\n#{message}" unless value
      nil
    end

    def false! value, message = nil
      @assertion_performed = true
      raise "#{value} was not falsey.\n#{message}" if value
      nil
    end

    def equal! actual, expected, message = nil
      @assertion_performed = true
      if actual != expected
        raise "actual:\n#{__value_text__ actual}\n\ndid not equal\n\nexpected:\n#{expected}\n#{message}"
      end
      nil
    end

    def not_equal! actual, expected, message = nil
      @assertion_performed = true
      if actual == expected
        raise "actual:\n#{__value_text__ actual}\n\nequaled\n\nexpected:\n#{expected}\n#{message}"
      end
      nil
    end

    def nil! value, message = nil
      @assertion_performed = true
      raise "#{value} was supposed to be nil, but wasn't.\n#{message}" unless value.nil?
      nil
    end

    private

    # nil prints as nothing, so it is named.
    def __value_text__ value
      "#{value}#{value.nil? ? " (nil) " : " "}".strip
    end
  end
end
