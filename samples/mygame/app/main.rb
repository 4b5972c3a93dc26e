def tick args
end
